# The main window: the view's rules, the frame, the numbers under a German
# locale, and one run from adding files to converted output with the real core.
plexavo_add_gui_test(test_mainview mainwin/test_mainview.cpp mainwin/MainWinSupport.h)
plexavo_add_gui_test(test_mainframe mainwin/test_mainframe.cpp mainwin/MainWinSupport.h)
