# The terminal pane's full-screen paint against Qt's own text widget drawing the same cells.
if(KESTEL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Svg) # imported targets are per directory
  kestel_bench(terminal_pane LIBS kestel_gui)
endif()
