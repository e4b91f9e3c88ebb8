# A large table fetched from the simulator program into an object map over loopback, against the
# same objects decoded and unpacked in-process; notifications applied per second under churn.
kestel_bench(map_fetch LIBS kestel_core kestel_sim)
target_include_directories(bench_map_fetch PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_dependencies(bench_map_fetch nimbalux-sim)
target_compile_definitions(bench_map_fetch PRIVATE KESTEL_SIM_PATH="$<TARGET_FILE:nimbalux-sim>"
                                                   KESTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
