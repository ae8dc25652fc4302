# The package signer pin: a name and the signing certificate's SHA-256, or nothing. A name alone
# would let any certificate of that name through. Included by CMakeLists.txt; also runs alone
# (cmake -DVD_PACKAGE_SIGNER=... -DVD_PACKAGE_SIGNER_SHA256=... -P cmake/checkpin.cmake).
if(NOT "${VD_PACKAGE_SIGNER}" STREQUAL "" OR NOT "${VD_PACKAGE_SIGNER_SHA256}" STREQUAL "")
  if("${VD_PACKAGE_SIGNER}" STREQUAL "")
    message(FATAL_ERROR "VD_PACKAGE_SIGNER_SHA256 is set but VD_PACKAGE_SIGNER is empty: pin the signer's "
                        "certificate common name together with its thumbprint")
  endif()
  string(LENGTH "${VD_PACKAGE_SIGNER_SHA256}" _vd_pin_len)
  if(NOT _vd_pin_len EQUAL 64 OR NOT "${VD_PACKAGE_SIGNER_SHA256}" MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR "VD_PACKAGE_SIGNER \"${VD_PACKAGE_SIGNER}\" needs VD_PACKAGE_SIGNER_SHA256: the SHA-256 "
                        "thumbprint of the signing certificate as 64 hex digits, without separators "
                        "(got \"${VD_PACKAGE_SIGNER_SHA256}\")")
  endif()
elseif("${CMAKE_BUILD_TYPE}" STREQUAL "Release")
  message(WARNING "No package signer is pinned (VD_PACKAGE_SIGNER, VD_PACKAGE_SIGNER_SHA256): this build runs "
                  "unsigned setup packages, guarded only by the MD5 the same server supplies.")
endif()
