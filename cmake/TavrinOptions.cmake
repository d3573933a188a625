# Strict build settings shared by every target.
add_library(tavrin_options INTERFACE)
if(MSVC)
    target_compile_options(tavrin_options INTERFACE /W4 /permissive- /utf-8)
else()
    target_compile_options(tavrin_options INTERFACE -Wall -Wextra -Wpedantic)
endif()
target_compile_definitions(tavrin_options INTERFACE
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_MESSAGELOGCONTEXT # our own log lines carry no source location
    QT_NO_URL_CAST_FROM_STRING
    QT_DISABLE_DEPRECATED_BEFORE=0x060400
)

set(TAVRIN_SANITIZE "" CACHE STRING "Sanitizers to build with, for example address,undefined or thread")
if(TAVRIN_SANITIZE)
    add_compile_options(-fsanitize=${TAVRIN_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${TAVRIN_SANITIZE})
endif()
