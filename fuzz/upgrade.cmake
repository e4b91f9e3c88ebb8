# Self-upgrade: the web server's LATEST.3 and CHANGELOG replies through the upgrade handler.
kestel_fuzz(upgrade_replies LIBS kestel_app)
