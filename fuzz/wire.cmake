# Message decoder: current and older record formats, round trip of what decodes, dump.
kestel_fuzz(message_parse LIBS kestel_wire)
