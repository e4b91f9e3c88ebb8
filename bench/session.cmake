# From "Connect" to the session window with its launcher, and the memory of ten open tables.
if(KESTEL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Svg)
  kestel_bench(session LIBS kestel_gui kestel_sim)
endif()
