#!/usr/bin/python3
"""Serves a folder of JPEG files as a web camera on 127.0.0.1.

    mjpeg_serve.py FOLDER FPS [PORT]

Every request gets its own endless multipart/x-mixed-replace stream of the
folder's *.jpg files in name order, looped, paced at FPS frames a second as
a camera sends them. Prints the port once it listens (PORT 0 or none: any
free port). Only the standard library, so Debian's python3 needs nothing more.
"""
import http.server
import os
import socketserver
import sys
import time

BOUNDARY = b"orvellaframe"


def main():
    folder, fps = sys.argv[1], float(sys.argv[2])
    port = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    frames = sorted(os.path.join(folder, name) for name in os.listdir(folder)
                    if name.endswith(".jpg"))
    if not frames:
        sys.exit("mjpeg_serve: no .jpg files in " + folder)
    # Read once: the server's own work should stay small beside what is measured.
    pictures = []
    for path in frames:
        with open(path, "rb") as f:
            pictures.append(f.read())

    class Camera(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type",
                             "multipart/x-mixed-replace; boundary=" + BOUNDARY.decode())
            self.send_header("Cache-Control", "no-cache")
            self.end_headers()
            start = time.monotonic()
            n = 0
            try:
                while True:
                    picture = pictures[n % len(pictures)]
                    self.wfile.write(b"--" + BOUNDARY + b"\r\nContent-Type: image/jpeg\r\n"
                                     b"Content-Length: " + str(len(picture)).encode() +
                                     b"\r\n\r\n" + picture + b"\r\n")
                    self.wfile.flush()
                    n += 1
                    # Paced from the start, so late writes do not add up.
                    delay = start + n / fps - time.monotonic()
                    if delay > 0:
                        time.sleep(delay)
            except (BrokenPipeError, ConnectionResetError):
                pass

        def log_message(self, *args):
            pass

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", port), Camera)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
