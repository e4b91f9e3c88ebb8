# The simulator's router side of the logins, as a hostile client's byte stream reaches it.
kestel_fuzz(sim_login LIBS kestel_sim)
