# The simulator's router side of the logins, as a hostile client's byte stream reaches it, and its
# menus, tools and settings pages, as a hostile client's requests reach them.
kestel_fuzz(sim_login LIBS kestel_sim)
kestel_fuzz(sim_menus LIBS kestel_sim)
# The simulator's file store, as a hostile client's transfer requests reach it.
kestel_fuzz(sim_file_store LIBS kestel_sim)
