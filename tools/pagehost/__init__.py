"""The page host: pagehost.exe (built from this folder) and its client and
pool, pagehost.py, which the local server, the tests and the benchmarks
import as tools.pagehost.pagehost."""
