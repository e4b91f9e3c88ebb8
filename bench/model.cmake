# Descriptor model: loading the sample descriptor set (and 20 times it) against nlohmann-json
# reading the same bytes; a 20-slot descriptor object packed and unpacked against hand-written
# message code.
find_package(nlohmann_json REQUIRED)
kestel_bench(model LIBS kestel_gen nlohmann_json::nlohmann_json)
target_compile_definitions(bench_model PRIVATE KESTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
