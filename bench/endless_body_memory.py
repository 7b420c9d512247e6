#!/usr/bin/env python3
# Usage: bench/endless_body_memory.py UPDATER SIZE_LIMIT_BYTES (a release build of the Linux updater)
# Peak memory of the updater when a file document never ends (no length) and when it is sent
# as announced but larger than its cap; the cap is the updater's own for the size limit given.
import http.server, os, resource, subprocess, sys, tempfile, threading, time
updater = sys.argv[1]
limit = int(sys.argv[2])
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/manifest.xml":
            body = (f"<m><version>2</version><componentes>1</componentes><tamfichero>{limit}</tamfichero>"
                    f"<urlcomp1>http://127.0.0.1:{port}/doc.xml</urlcomp1><destcomp1>x.dll</destcomp1></m>").encode()
            self.send_response(200); self.send_header("Content-Length", str(len(body))); self.end_headers(); self.wfile.write(body); return
        self.send_response(200); self.send_header("Connection", "close"); self.end_headers()
        chunk = b"<d><fichero>" + b"41" * (1 << 19)
        try:
            while True:
                self.wfile.write(chunk); chunk = b"41" * (1 << 19)
        except Exception:
            pass
    def log_message(self, *a): pass
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H); port = srv.server_address[1]
threading.Thread(target=srv.serve_forever, daemon=True).start()
root = tempfile.mkdtemp(); os.makedirs(f"{root}/cfg/mubax"); os.makedirs(f"{root}/app"); os.makedirs(f"{root}/rt")
open(f"{root}/app/pos", "w").write("#!/bin/sh\n"); os.chmod(f"{root}/app/pos", 0o755)
open(f"{root}/app/x.dll", "w").write("old")
open(f"{root}/cfg/mubax/registry.ini", "w").write(f"[Software\\MUBAX_Pirvel]\npath={root}/app/pos\nurlact=http://127.0.0.1:{port}/manifest.xml\nversion=1\n")
env = dict(os.environ, XDG_CONFIG_HOME=f"{root}/cfg", XDG_RUNTIME_DIR=f"{root}/rt")
idle = subprocess.run([updater, "--version"], env=env, capture_output=True)
idle_rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
t = time.time(); subprocess.run([updater], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
cap = 4 * limit + 64 * 1024
print(f"limit {limit} B, cap {cap/2**20:.1f} MiB: peak RSS {peak/1024:.1f} MiB (idle {idle_rss/1024:.1f} MiB), "
      f"{time.time()-t:.1f} s, x.dll={open(f'{root}/app/x.dll').read()!r}")
