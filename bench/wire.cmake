# Message codec against protobuf on the same records (protobuf is a bench-only dependency).
find_package(Protobuf REQUIRED)
protobuf_generate(LANGUAGE cpp OUT_VAR message_codec_pb
  PROTOS ${PROJECT_SOURCE_DIR}/bench/message_codec.proto
  IMPORT_DIRS ${PROJECT_SOURCE_DIR}/bench PROTOC_OUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
set_source_files_properties(${message_codec_pb} PROPERTIES COMPILE_OPTIONS "-w")
kestel_bench(message_codec LIBS kestel_wire protobuf::libprotobuf)
target_sources(bench_message_codec PRIVATE ${message_codec_pb})
target_include_directories(bench_message_codec PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
