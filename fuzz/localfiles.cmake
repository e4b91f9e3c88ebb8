# Local files: string-map records, the settings file and the address book.
kestel_fuzz(string_map_record LIBS kestel_miw)
kestel_fuzz(settings_file LIBS kestel_miw)
kestel_fuzz(address_book LIBS kestel_app)
