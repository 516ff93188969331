"""The programs beside VARO.DLL that are written in Python: the page host's
client and pool (tools.pagehost.pagehost) and the local server
(tools.serve, run by scripts/serve)."""
