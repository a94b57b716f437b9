# The list tick routines of the check-box dialogs and views.
vx_add_test(listcheck_test SOURCES listcheck_test.cpp LIBS vxui GUI)
