# Terminal sessions: a hostile router against the client's session, a hostile client against the
# simulator's console.
kestel_fuzz(terminal_exchange LIBS kestel_core kestel_sim)
