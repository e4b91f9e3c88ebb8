# Object maps: replies and notifications from a hostile router, mixed with the user's edits.
kestel_fuzz(container LIBS kestel_container)
