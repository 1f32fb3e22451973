"""HTTPS for the sandbox: certificates made at start-up and the server's TLS context."""

from .certificates import OpensslMissing, ServerCertificate, make_certificates

__all__ = ["OpensslMissing", "ServerCertificate", "make_certificates"]
