# The Language menu and the switch between language packs.
set(PLEXAVO_TRANSLATION_CONTACT "translations@vantrel.example" CACHE STRING
  "The address the notice after a language switch asks translation errors to be sent to")
target_sources(plexgui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LanguagePacksUi.cpp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/LanguagePacksUi.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "PLEXAVO_TRANSLATION_CONTACT=\"${PLEXAVO_TRANSLATION_CONTACT}\"")
