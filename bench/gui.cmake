# The terminal pane's full-screen paint against Qt's own text widget drawing the same cells.
if(KESTEL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Svg) # imported targets are per directory
  kestel_bench(terminal_pane LIBS kestel_gui)
endif()
# Start-up of `kestel` to its first painted window against a minimal Qt Widgets program.
if(KESTEL_GUI)
  kestel_bench(startup LIBS Qt6::Widgets)
  target_compile_definitions(bench_startup PRIVATE KESTEL_EXE="$<TARGET_FILE:kestel>")
  add_dependencies(bench_startup kestel)
endif()
