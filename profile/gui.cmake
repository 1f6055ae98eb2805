target_sources(vlxgui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/TableView.cpp ${CMAKE_CURRENT_LIST_DIR}/ProfileCommands.cpp)
