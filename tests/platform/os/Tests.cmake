# The screen copy tests draw on a virtual X server's root window.
find_package(X11 REQUIRED)
target_link_libraries(${name} PRIVATE X11::X11)
