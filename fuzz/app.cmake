# Descriptor cache: the router's index and checksum records; the gzip sink.
kestel_fuzz(descriptor_index LIBS kestel_app)
kestel_fuzz(gzip_sink LIBS kestel_app)
# Start-up: the session parameters a child reads from the hand-off pipe.
kestel_fuzz(session_parameters LIBS kestel_app)

# Neighbour discovery: the datagram parser and the neighbour built from it.
kestel_fuzz(discovery_packet LIBS kestel_app)
# File transfer: a hostile router's file list and its answers to a download.
kestel_fuzz(file_transfer LIBS kestel_app)
# The dashboard's records in a session file.
kestel_fuzz(dashboard_records LIBS kestel_app)
