# The launcher's search over the sample descriptors and large open tables, against glibc's
# strcasestr doing the same matching and ranking.
kestel_bench(launcher_search LIBS kestel_core)
target_compile_definitions(bench_launcher_search PRIVATE KESTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
