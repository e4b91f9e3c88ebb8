# Terminal: ours vs libvterm on the same 20 MB console stream at 80x24.
kestel_bench(term LIBS kestel_term vterm)
