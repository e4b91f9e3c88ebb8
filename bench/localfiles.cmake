# Local files: opening and saving a large address book.
kestel_bench(address_book LIBS kestel_app)
