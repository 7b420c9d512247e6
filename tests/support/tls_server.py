"""A loopback https server for the net tests: serves /doc.xml, redirects /down to the plain-http
address given and /up to its own /doc.xml. Prints its port on the first line of its output and
serves until killed. Usage: tls_server.py CERT KEY PLAIN_URL"""

import http.server
import ssl
import sys

cert, key, plain_url = sys.argv[1:4]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/doc.xml":
            body = b"<d>over https</d>"
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        targets = {"/down": plain_url, "/up": f"https://127.0.0.1:{port}/doc.xml"}
        self.send_response(302 if self.path in targets else 404)
        if self.path in targets:
            self.send_header("Location", targets[self.path])
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
port = server.server_address[1]
print(port, flush=True)
server.serve_forever()
