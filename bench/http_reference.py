#!/usr/bin/env python3
"""Twin of bench/http.kel (named so it does not hide the http package): 1,000 GETs of /hello with urllib at the URL in KEL_TEST_URL."""
import os
import urllib.request

url = os.environ["KEL_TEST_URL"] + "hello"
n = 1000
bad = 0
for _ in range(n):
    with urllib.request.urlopen(url) as r:
        if r.read().decode("utf-8") != "hello":
            bad += 1
print("GETs:", n, "wrong:", bad)
