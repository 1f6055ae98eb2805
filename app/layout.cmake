# The window's controls and their layout.
target_sources(vlxgui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Widgets.cpp ${CMAKE_CURRENT_LIST_DIR}/Unit1Layout.cpp)
