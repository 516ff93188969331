"""The local server, scripts/serve (python3 -m tools.serve): connection.py
answers one client, request_head.py reads its requests' heads."""
