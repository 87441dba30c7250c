# Read by ctest after the discovered-test lists of this directory: gives each
# discovered test the labels in MODEL_TEST_LABELS. (gtest_discover_tests of CMake 3.25 flattens a
# list-valued LABELS property into separate words, so it cannot set two.)
foreach(list_file IN LISTS MODEL_TEST_LISTS)
    if(NOT EXISTS "${list_file}")
        continue()
    endif()
    file(STRINGS "${list_file}" lines REGEX "^add_test\\(")
    foreach(line IN LISTS lines)
        if(line MATCHES "^add_test\\(\\[=\\[([^]]*)\\]=\\]")
            set_tests_properties("${CMAKE_MATCH_1}" PROPERTIES LABELS "${MODEL_TEST_LABELS}")
        endif()
    endforeach()
endforeach()
