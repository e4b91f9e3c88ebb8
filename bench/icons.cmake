# Icon sheets: the PNG reader against libpng on a sprite sheet and a 1024×1024 image.
find_package(PNG REQUIRED)
kestel_bench(png LIBS kestel_miw PNG::PNG)
