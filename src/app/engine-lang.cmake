# Language packs: finding, querying and loading LanRes*Dll.so (dlopen).
target_sources(plexengine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LanguagePacks.cpp)
target_link_libraries(plexengine PUBLIC ${CMAKE_DL_LIBS})
