# busvista_subsystem(<name> [UI base ...] [DEPS target ...] [UI_DEPS target ...])
#
# Builds the subsystem library <name> from the sources of the current folder.
# Files whose base name is listed under UI (dialogs, panels, delegates) and all
# .ui forms go into <name>_ui, which links Qt Widgets; the core library never
# does, so the CLI, tests and benchmarks can use it headless.
function(busvista_subsystem name)
    cmake_parse_arguments(S "" "" "UI;DEPS;UI_DEPS;QT" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    file(GLOB forms CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    set(core_sources)
    set(ui_sources)
    foreach(file ${sources})
        get_filename_component(base ${file} NAME_WE)
        if(base IN_LIST S_UI)
            list(APPEND ui_sources ${file})
        else()
            list(APPEND core_sources ${file})
        endif()
    endforeach()

    if(core_sources)
        add_library(${name} STATIC ${core_sources})
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui ${S_QT} ${S_DEPS})
        busvista_warnings(${name})
    endif()

    if(ui_sources AND BUSVISTA_GUI)
        add_library(${name}_ui STATIC ${ui_sources} ${forms})
        target_include_directories(${name}_ui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${name}_ui PUBLIC Qt6::Widgets ${S_UI_DEPS})
        if(TARGET ${name})
            target_link_libraries(${name}_ui PUBLIC ${name})
        endif()
        busvista_warnings(${name}_ui)
    endif()
endfunction()
