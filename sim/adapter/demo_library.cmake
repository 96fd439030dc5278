# The demo's adapter library, build/demo/libcibridge.so: the library core over the emulated
# adapter. Included from firmware/, once cibridge_add_library() is defined.
# Not in a Windows tree: there cibridge.dll is the product itself.
if(COMMAND cibridge_add_library AND TARGET morvane_sim_adapter AND TARGET loader_image AND NOT WIN32)
  cibridge_add_library(cibridge_demo OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/demo_variant.cpp
    LIBS morvane_sim_adapter loader_image)
endif()
