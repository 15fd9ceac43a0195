# The test programs are built as unity builds: their files share the Boost.Beast and GoogleTest
# headers and the templates instantiated from them, which are then compiled once per program
# instead of once per file.
foreach(target studio_preview_unit_tests studio_preview_integration_tests)
    if(TARGET ${target})
        set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
    endif()
endforeach()
# Its parameterised fixture lives in an anonymous namespace, which GCC flags once the file is
# included into another (-Wsubobject-linkage): it stays a file of its own.
set_source_files_properties(
    "${CMAKE_CURRENT_SOURCE_DIR}/studio-preview/tests/integration/fatal_errors_test.cpp"
    DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/studio-preview/tests"
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
