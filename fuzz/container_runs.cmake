# Actions, queries, setup wizards, holders and one-shot commands answered by a hostile router.
kestel_fuzz(container_runs LIBS kestel_container)
