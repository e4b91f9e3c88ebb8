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

# The table widget over a million-row map from the simulator; its sort and filter against Qt's
# proxy model over a plain item model holding the same rows.
if(KESTEL_GUI)
  kestel_bench(table LIBS kestel_gui kestel_sim)
  target_include_directories(bench_table PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_dependencies(bench_table nimbalux-sim)
  target_compile_definitions(bench_table PRIVATE KESTEL_SIM_PATH="$<TARGET_FILE:nimbalux-sim>"
                                                 KESTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()

# Opening an object editor of 60 fields against a form of 60 line edits holding the same values.
if(KESTEL_GUI)
  kestel_bench(object_editor LIBS kestel_gui)
endif()
