"""The payment ledger: every decision about a payment's money state, free of any framework.

A shop's record of a payment (its status, its settle and refund state, the service's order
behind it) changes only through the functions here. They decide; a storage adapter (the
Django app's ORM storage, a SQLAlchemy one) keeps the records and carries each decision out
atomically through the `PaymentStore` interface of `storage`.

- `statuses`: the statuses, which are final, which changes are announced.
- `status_codes`: what the service's numeric codes mean.
- `amounts`: amounts and currencies.
- `transitions`: which report of the service changes what.
- `create_outcomes`: the one table that classifies how a create call ended.
- `adoption`: when a payment may take an order id it never received.
- `callbacks`: what a callback request is answered and how it is stored.
- `storage`: the records and the storage interface.
- `ledger`: the operations (start, refresh, callback, reconcile) on a store.
"""
