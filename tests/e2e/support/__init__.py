"""Helpers for the end-to-end tests: Wine prefix, HTTPS release server, test CA, display."""
