"""HTTP: the server, the request handler and the routes of each area."""
