# The simulator's end of the client's crash report, as a hostile client's byte stream reaches it.
kestel_fuzz(sim_crash_reports LIBS kestel_sim)
