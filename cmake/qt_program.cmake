# A program's windows: a Qt Widgets library over its Qt-free core, with its forms/*.ui and its
# resources, and the program itself from main.cpp.
function(tbx_qt_program program)
    cmake_parse_arguments(P "" "CORE" "SOURCES" ${ARGN})
    set(ui ${program}_ui)
    add_library(${ui} ${P_SOURCES})
    set_target_properties(${ui} PROPERTIES
        AUTOMOC ON AUTOUIC ON AUTORCC ON
        AUTOUIC_SEARCH_PATHS ${CMAKE_CURRENT_SOURCE_DIR}/forms)
    target_include_directories(${ui} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(${ui} PRIVATE ${TBX_WARNINGS})
    target_link_libraries(${ui} PUBLIC ${P_CORE} Qt6::Widgets)

    add_executable(${program} main.cpp)
    target_compile_options(${program} PRIVATE ${TBX_WARNINGS})
    target_link_libraries(${program} PRIVATE ${ui})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
endfunction()
