"""Local test servers of the installer, all on 127.0.0.1 behind one forwarding proxy.

From pytest:

    from servers import ServerSet
    with ServerSet() as srv:                 # every server on an ephemeral port
        env = srv.env()                      # http_proxy and VD_SRV_* for the program under test
        srv.config.set_answer("empty", 500)
        ...
        srv.config.requests()                # what went on the wire

From a shell: python3 -m servers --port-file F [--exec -- command ...]
"""
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading

from .behaviorcollector import BehaviorCollector
from .configserver import ConfigServer
from .ipserver import IpServer
from .packageserver import PackageServer
from .proxy import ProxyServer
from .statscollector import StatsCollector

# Placeholder defaults of the build; a build with other hosts is read from its generated header.
DEFAULT_HOSTS = {
    "config": "config.vardo.example",
    "package": "dl.vardo.example",
    "stats": "stat.vardo.example",
    "behavior": "behavior.vardo.example",
    "iplookup": "ip.vardo.example",
}
_HEADER_KEYS = {"config": "VD_CONFIG_HOST", "package": "VD_PACKAGE_HOST", "stats": "VD_STATS_HOST",
                "behavior": "VD_BEHAVIOR_HOST", "iplookup": "VD_IPLOOKUP_HOST"}


def read_endpoint_hosts(build_dir=None):
    """Host names the executable was built with (vd_endpoints.h), else the placeholder defaults."""
    hosts = dict(DEFAULT_HOSTS)
    build_dir = build_dir or os.environ.get("VD_BUILD")
    if build_dir:
        path = os.path.join(build_dir, "generated", "vd_endpoints.h")
        if os.path.isfile(path):
            text = open(path, encoding="utf-8", errors="replace").read()
            for role, key in _HEADER_KEYS.items():
                m = re.search(r'#define\s+%s\s+L"([^"]*)"' % key, text)
                if m:
                    hosts[role] = m.group(1)
    return hosts


def make_untrusted_certificate(folder):
    """A self-signed certificate for a name no test host has."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=wrong-name.invalid", "-keyout", key, "-out", cert],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    return cert, key


class ServerSet:
    """Starts the proxy and every server; stops them on close or after `timeout` seconds."""

    def __init__(self, build_dir=None, files_dir=None, timeout=900, max_requests=5000, tls=False):
        self.hosts = read_endpoint_hosts(build_dir)
        self.proxy = ProxyServer(max_requests=max_requests * 4).start()
        self.config = ConfigServer(max_requests=max_requests).start()
        self.iplookup = IpServer(max_requests=max_requests).start()
        self.package = PackageServer(max_requests=max_requests, folder=files_dir).start()
        self.servers = {"config": self.config, "iplookup": self.iplookup, "package": self.package}
        for role, server in self.servers.items():
            self.proxy.add_host(self.hosts[role], server.port)
        if tls:
            # the package files over https, with a certificate no client can trust (self-signed,
            # wrong name): the installer must fetch them all the same
            self.tls_dir = tempfile.mkdtemp(prefix="vdtls_")
            cert, key = make_untrusted_certificate(self.tls_dir)
            tls_server = PackageServer(max_requests=max_requests, folder=files_dir)
            tls_server.name = "package_tls"
            tls_server.files = self.package.files
            tls_server.enable_tls(cert, key)
            tls_server.start()
            self.servers["package_tls"] = self.package_tls = tls_server
            self.proxy.add_tls_host(self.hosts["package"], tls_server.port)
        self.add("stats", StatsCollector(max_requests=max_requests))
        self.add("behavior", BehaviorCollector(max_requests=max_requests))
        # packages named by the configuration answer default to the package server
        self.config.set_package(Url="http://%s/pkg/VardoSetup.exe" % self.hosts["package"])
        self._closed = False
        self._timer = threading.Timer(timeout, self.close)
        self._timer.daemon = True
        self._timer.start()

    def add(self, role, server, host=None):
        """Later servers (collectors and the like) join the set and the proxy's routes."""
        server.start() if server.thread is None else None
        self.servers[role] = server
        setattr(self, role, server)
        self.proxy.add_host(host or self.hosts.get(role, role), server.port)
        return server

    def ports(self):
        out = {role: s.port for role, s in self.servers.items()}
        out["proxy"] = self.proxy.port
        out["hosts"] = dict(self.hosts)
        return out

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["http_proxy"] = self.proxy.url
        env.pop("no_proxy", None)
        env.pop("NO_PROXY", None)
        env["VD_SRV_PROXY"] = str(self.proxy.port)
        for role, s in self.servers.items():
            env["VD_SRV_" + role.upper()] = str(s.port)
        return env

    def reset(self):
        self.proxy.reset()
        for s in self.servers.values():
            s.reset()

    def write_port_file(self, path):
        tmp = path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(self.ports(), f)
        os.replace(tmp, path)

    def close(self):
        if self._closed:
            return
        self._closed = True
        self._timer.cancel()
        for s in list(self.servers.values()) + [self.proxy]:
            try:
                s.stop()
            except Exception:
                pass
        if getattr(self, "tls_dir", None):
            shutil.rmtree(self.tls_dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
