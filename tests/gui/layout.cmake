# The main window's layout, pictures and click areas.
vlx_add_test(vlx_layout_tests GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/LayoutTest.cpp LIBS vlxgui vlxcore)
target_include_directories(vlx_layout_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(vlx_layout_tests PRIVATE VLX_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
