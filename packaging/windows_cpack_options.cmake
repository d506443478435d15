# Read by cpack once per generator: the zip unpacks into one folder named after the package;
# the NSIS generator does not take that option (and warns when it is set).
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
