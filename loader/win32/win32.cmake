# The window program as a native Win32 program (user32, gdi32): loader.exe.
set(win32_front ${CMAKE_CURRENT_LIST_DIR})
add_executable(loader WIN32
  ${win32_front}/Loader.cpp ${win32_front}/Main.cpp ${win32_front}/Options.cpp
  ${win32_front}/msgunit.cpp ${win32_front}/win32_form.cpp ${win32_front}/win32_host.cpp)
target_include_directories(loader PRIVATE ${win32_front} ${win32_front}/..)
target_link_libraries(loader PRIVATE loader_update loader_settings loader_forms loader_paint_gdi
                                     morvane_platform user32 gdi32)

# The driver and stand-in adapter library of the window program's test under Wine.
include(${PROJECT_SOURCE_DIR}/tests/windows/loader_window.cmake OPTIONAL)
