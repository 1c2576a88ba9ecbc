# Boost, for Beast and Asio (headers only): found through the package Boost installs for CMake
# (BoostConfig.cmake, since Boost 1.70), through CMake's FindBoost module only where that package
# is missing and CMake still has the module (before 3.30).
if(POLICY CMP0167)
  cmake_policy(SET CMP0167 NEW)
endif()
find_package(Boost 1.74 CONFIG)
if(NOT Boost_FOUND)
  find_package(Boost 1.74 REQUIRED)
endif()

# Asio in older Boost (1.74 among them) reaches for std::result_of unless told that
# std::invoke_result exists; libc++ has no result_of in C++20. Tell it only where it needs telling.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_LIBRARIES Boost::headers)
set(asio_probe "#include <boost/asio/io_context.hpp>\nint main() { boost::asio::io_context io; }")
check_cxx_source_compiles("${asio_probe}" VESK_ASIO_BUILDS)
if(NOT VESK_ASIO_BUILDS)
  set(CMAKE_REQUIRED_DEFINITIONS -DBOOST_ASIO_HAS_STD_INVOKE_RESULT)
  check_cxx_source_compiles("${asio_probe}" VESK_ASIO_BUILDS_WITH_INVOKE_RESULT)
  if(NOT VESK_ASIO_BUILDS_WITH_INVOKE_RESULT)
    message(FATAL_ERROR "Boost.Asio does not compile with this compiler and C++ library, with "
                        "or without BOOST_ASIO_HAS_STD_INVOKE_RESULT")
  endif()
  set_property(TARGET Boost::headers APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
               BOOST_ASIO_HAS_STD_INVOKE_RESULT)
endif()
unset(CMAKE_REQUIRED_LIBRARIES)
unset(CMAKE_REQUIRED_DEFINITIONS)
