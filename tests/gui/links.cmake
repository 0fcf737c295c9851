# Window tests of the links in the main window and its dialogs.
plexavo_add_gui_test(test_hyperlink ${PROJECT_SOURCE_DIR}/tests/desktop/test_hyperlink.cpp)
