# Convertors: check, parse and format of typed text for every convertor kind.
kestel_fuzz(convertors LIBS kestel_miw)
# Named views and table window records read from the settings file.
kestel_fuzz(named_views LIBS kestel_miw)
# Table state: "cols", "order", "mode" and "filters" values of any content.
kestel_fuzz(table_state LIBS kestel_miw)
# Rows copied from a table, read back for Paste.
kestel_fuzz(copied_rows LIBS kestel_miw)
