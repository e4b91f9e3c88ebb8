# Terminal: console streams of arbitrary bytes, fed whole and in pieces.
kestel_fuzz(term LIBS kestel_term)
