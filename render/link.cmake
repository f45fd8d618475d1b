# Caption glyphs come from the system's font files: fontconfig finds the face,
# FreeType rasterises it (render/glyph_source.cpp only).
pkg_check_modules(FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
target_link_libraries(velmora_core PRIVATE PkgConfig::FREETYPE2 PkgConfig::FONTCONFIG)
