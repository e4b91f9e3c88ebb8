# Connect-to-logged-in time and encrypted round trips against the in-process simulator.
kestel_bench(login LIBS kestel_core kestel_sim)
