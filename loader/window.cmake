# The settings file (no window system: the terminal program uses it too).
add_library(loader_settings STATIC ${CMAKE_CURRENT_LIST_DIR}/settings.cpp)
target_include_directories(loader_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(loader_settings PUBLIC loader_access morvane_platform)
