# TEMPORARY TEST-ONLY STAND-IN for the crypto library: an `orvelo_crypto` whose sha256() is
# OpenSSL's, made only natively and only while no real orvelo_crypto exists. Delete this folder
# and its include in src/inflate/CMakeLists.txt once src/crypto provides the library.
if(NOT TARGET orvelo_crypto AND NOT CMAKE_CROSSCOMPILING)
    find_package(OpenSSL QUIET)
    if(OpenSSL_FOUND)
        add_library(orvelo_crypto STATIC ${CMAKE_CURRENT_LIST_DIR}/sha256_openssl_shim.cpp)
        target_include_directories(orvelo_crypto PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(orvelo_crypto PUBLIC OpenSSL::Crypto PRIVATE orvelo_warnings)
    endif()
endif()
