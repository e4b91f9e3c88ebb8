# Convertors: check, parse and format of typed text for every convertor kind.
kestel_fuzz(convertors LIBS kestel_miw)
