# Regular expressions: compile and match patterns and subjects from arbitrary bytes.
kestel_fuzz(regex LIBS kestel_regex)
