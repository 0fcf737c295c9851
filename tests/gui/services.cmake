# Window tests of the main window's services.
plexavo_add_gui_test(test_hyperlink ${PROJECT_SOURCE_DIR}/tests/services/test_hyperlink.cpp)
