# Regular expressions: ours (lazy deterministic matcher and plain simulation) vs RE2 and regexec.
kestel_bench(regex LIBS kestel_regex re2)
