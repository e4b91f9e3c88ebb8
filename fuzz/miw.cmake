# Convertors: check, parse and format of typed text for every convertor kind.
kestel_fuzz(convertors LIBS kestel_miw)
# Named views and table window records read from the settings file.
kestel_fuzz(named_views LIBS kestel_miw)
