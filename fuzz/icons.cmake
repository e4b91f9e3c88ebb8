# Icon sheets: the PNG reader and icon cutting on arbitrary files.
kestel_fuzz(png_reader LIBS kestel_miw)
