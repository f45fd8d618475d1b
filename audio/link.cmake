# The sound layer: SDL audio (already linked), MP3 decoding, resampling and the FFT.
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
pkg_check_modules(KISSFFT REQUIRED IMPORTED_TARGET kissfft-float)
target_link_libraries(velmora_core PRIVATE PkgConfig::MPG123 PkgConfig::SOXR PkgConfig::KISSFFT
                      ${CMAKE_DL_LIBS})
# libpulse plays through a Pulse server and reports its latency; SDL covers the rest.
pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(velmora_core PRIVATE PkgConfig::LIBPULSE)
