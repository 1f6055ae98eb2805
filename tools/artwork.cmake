# The artwork generator (run by hand, not by the build; its output is kept in
# assets/) and the screenshot tool.
#   vlx_make_artwork <folder> [<icons>]  draws the pictures, the logo and the
#                                  icon; the desktop icons (dist/icons) too
#   vlx_screenshot <file.png>      grabs the main window to a PNG
add_executable(vlx_make_artwork ${CMAKE_CURRENT_LIST_DIR}/make_artwork.cpp)
target_link_libraries(vlx_make_artwork PRIVATE Qt6::Gui)

add_executable(vlx_screenshot ${CMAKE_CURRENT_LIST_DIR}/screenshot.cpp)
target_link_libraries(vlx_screenshot PRIVATE vlxgui vlxcore)
