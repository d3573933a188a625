# Strict build settings shared by every target.
add_library(tavrin_options INTERFACE)
if(MSVC)
    target_compile_options(tavrin_options INTERFACE /W4 /permissive- /utf-8)
else()
    target_compile_options(tavrin_options INTERFACE -Wall -Wextra -Wpedantic)
endif()
# Full RELRO, as Debian's hardening asks of packaged binaries.
target_link_options(tavrin_options INTERFACE $<$<PLATFORM_ID:Linux>:LINKER:-z,now>)

# CI turns warnings into errors (TAVRIN_WARNINGS_AS_ERRORS=ON in the environment of a preset
# configure, see .ci/run); developers' builds stay lenient.
option(TAVRIN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
if(TAVRIN_WARNINGS_AS_ERRORS)
    target_compile_options(tavrin_options INTERFACE $<IF:$<CXX_COMPILER_ID:MSVC>,/WX,-Werror>)
endif()
# Benchmarks (bench/) cost a third of a clean build; CI and the benchmark scripts turn them on
# (TAVRIN_BUILD_BENCH=ON in the environment of a preset configure), as for warnings above.
option(TAVRIN_BUILD_BENCH "Build the benchmarks in bench/" OFF)

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
